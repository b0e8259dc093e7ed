<html><head><title>Quillor - $GROUP$</title></head>
<body>
<h1>Newsgroups on $NEWSHOST$</h1>
$GROUPLIST$
</body></html>
