# cmake -DCMARK=cmark-gfm -DINPUT=guide.md -DOUTPUT=guide.html -P GuideHtml.cmake
# The guide as one HTML page: the Markdown's tables and links, a title and a plain style.
execute_process(COMMAND ${CMARK} --extension table --extension autolink --extension strikethrough ${INPUT}
  OUTPUT_VARIABLE body RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmark-gfm failed on ${INPUT}: ${result}")
endif()
string(REGEX MATCH "<h1>[^<]*</h1>" heading "${body}")
string(REGEX REPLACE "</?h1>" "" title "${heading}")
file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"en\"><head><meta charset=\"utf-8\"><title>${title}</title>
<style>body{max-width:52em;margin:2em auto;padding:0 1em;font-family:sans-serif;line-height:1.45}
pre,code{background:#f4f4f4}pre{padding:.6em;overflow:auto}table{border-collapse:collapse}
td,th{border:1px solid #ccc;padding:.2em .5em}img{max-width:100%}</style></head><body>
${body}</body></html>
")
