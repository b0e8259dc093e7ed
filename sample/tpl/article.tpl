<html><head><title>$SUBJECT$</title></head>
<body>
<p>From: $FROM$<br>Date: $DATE$</p>
<pre>$BODY$</pre>
</body></html>
