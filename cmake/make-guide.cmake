# The user guide as one HTML page beside its pictures (images/), from its Markdown text; run by
# the build:   cmake -DCMARK=cmark-gfm -DIN=docs/guide.md -DOUT=guide.html -P make-guide.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CMARK} --extension table --extension autolink ${IN}
                OUTPUT_VARIABLE body RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${CMARK} failed on ${IN}")
endif()

# Every heading gets the id GitHub gives it on the page of guide.md, so that a link into a section
# works on both pages and a program can open the guide at its own section (F1 in the station opens
# guide.html#станция-программирования): the text without markup, in lower case (Russian letters
# too, which string(TOLOWER) leaves alone), without punctuation, spaces as hyphens; a heading met
# again is numbered (-1, -2, …).
set(upper "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ")
set(lower "абвгдеёжзийклмнопрстуфхцчшщъыьэюя")
set(rest "${body}")
set(body "")
set(ids "")
while(TRUE)
  string(REGEX MATCH "<h([1-6])>([^\n]*)</h[1-6]>" heading "${rest}")
  if(heading STREQUAL "")
    break()
  endif()
  set(level ${CMAKE_MATCH_1})
  set(text "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "<[^>]*>" "" id "${text}")
  string(REGEX REPLACE "&[a-z]+;|&#[0-9]+;" "" id "${id}")
  string(TOLOWER "${id}" id)
  foreach(at RANGE 0 64 2) # two bytes a letter in UTF-8
    string(SUBSTRING "${upper}" ${at} 2 from)
    string(SUBSTRING "${lower}" ${at} 2 to)
    string(REPLACE "${from}" "${to}" id "${id}")
  endforeach()
  string(REGEX REPLACE "[!-,./:-@[-^`{-~]" "" id "${id}")
  foreach(mark "«" "»" "—" "–" "…" "№" "“" "”" "„" "‘" "’" "✓" "✗" "·")
    string(REPLACE "${mark}" "" id "${id}")
  endforeach()
  string(REPLACE " " "-" id "${id}")
  set(unique "${id}")
  set(n 0)
  while(unique IN_LIST ids)
    math(EXPR n "${n} + 1")
    set(unique "${id}-${n}")
  endwhile()
  list(APPEND ids "${unique}")
  string(FIND "${rest}" "${heading}" at)
  string(SUBSTRING "${rest}" 0 ${at} before)
  string(LENGTH "${heading}" length)
  math(EXPR after "${at} + ${length}")
  string(SUBSTRING "${rest}" ${after} -1 rest)
  string(APPEND body "${before}<h${level} id=\"${unique}\">${text}</h${level}>")
endwhile()
string(APPEND body "${rest}")

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
