# Run in script mode at build time: joins the page, its script and style and
# the bundled charting library (uPlot, from npm) into one HTML text and writes
# it as a C++ source, so vxdiag carries its page and installs no files.
#   cmake -DWEB_DIR=<this folder> -DUPLOT_DIR=<node_modules/uplot/dist> -DOUTPUT=<file.cpp> -P embed_page.cmake
file(READ ${WEB_DIR}/page.html page)
file(READ ${WEB_DIR}/page.js page_js)
file(READ ${WEB_DIR}/page.css page_css)
if(EXISTS ${UPLOT_DIR}/uPlot.iife.min.js)
  file(READ ${UPLOT_DIR}/uPlot.iife.min.js uplot_js)
  file(READ ${UPLOT_DIR}/uPlot.min.css uplot_css)
else()
  # Built without `npm ci`: the page works, its plot says what is missing.
  set(uplot_js "/* uPlot was not installed at build time (npm ci in tools/vxdiag/web) */")
  set(uplot_css "")
endif()
string(REPLACE "/*@UPLOT_CSS@*/" "${uplot_css}" page "${page}")
string(REPLACE "/*@PAGE_CSS@*/" "${page_css}" page "${page}")
string(REPLACE "/*@UPLOT_JS@*/" "${uplot_js}" page "${page}")
string(REPLACE "/*@PAGE_JS@*/" "${page_js}" page "${page}")
if(page MATCHES "\\)vxpage\"")
  message(FATAL_ERROR "the page holds the raw string's end marker")
endif()
file(WRITE ${OUTPUT}.tmp "// Generated from tools/vxdiag/web by embed_page.cmake: do not edit.\n#include \"web_server.h\"\n\nconst char* const vxdiag::kWebPage = R\"vxpage(${page})vxpage\";\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
