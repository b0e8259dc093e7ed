Subject: Re: $SUBJECT$

$NAME$ wrote:
$QUOTE$
