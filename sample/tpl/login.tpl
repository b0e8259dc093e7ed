<html><body>
<form method="post" action="$SCRIPT$">
User <input name="user"> Password <input type="password" name="pass">
<input type="submit" value="Login">
</form>
</body></html>
