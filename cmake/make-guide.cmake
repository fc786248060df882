# The user guide as one HTML page beside its pictures (images/), from its Markdown text; run by
# the build:   cmake -DCMARK=cmark-gfm -DIN=docs/guide.md -DOUT=guide.html -P make-guide.cmake
execute_process(COMMAND ${CMARK} --extension table --extension autolink ${IN}
                OUTPUT_VARIABLE body RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${CMARK} failed on ${IN}")
endif()
file(STRINGS ${IN} heading ENCODING UTF-8 LIMIT_COUNT 1 REGEX "^# ")
string(REGEX REPLACE "^# " "" title "${heading}")
file(WRITE ${OUT} "<!DOCTYPE html>
<html lang=\"ru\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>${title}</title>
<style>
body { font-family: sans-serif; line-height: 1.45; max-width: 52em; margin: 1.5em auto; padding: 0 1em; color: #222; }
img { max-width: 100%; border: 1px solid #ccc; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.5em; vertical-align: top; text-align: left; }
code, pre { background: #f4f4f4; font-family: monospace; }
pre { padding: 0.6em; overflow-x: auto; }
</style>
</head>
<body>
${body}</body>
</html>
")
