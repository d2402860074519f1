# The web page (make web): the game with the page's host, built by Emscripten into
# ${CMAKE_BINARY_DIR}/site as index.html, rall.js, quillmarsh-rall.js and quillmarsh-rall.wasm.
# Asyncify lets the game's busy loops yield to the browser at every sleep. (The compiler's flags and
# the JSON headers are set up before the libraries: see WebSetup.cmake.)

set(QR_SITE ${CMAKE_BINARY_DIR}/site)
set_target_properties(rall-web PROPERTIES OUTPUT_NAME quillmarsh-rall SUFFIX .js RUNTIME_OUTPUT_DIRECTORY ${QR_SITE})
target_link_options(rall-web PRIVATE
  -O2 -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536 -sENVIRONMENT=web -sINITIAL_MEMORY=33554432 -sEXIT_RUNTIME=0)
set(QR_PAGE_FILES ${CMAKE_SOURCE_DIR}/web/index.html ${CMAKE_SOURCE_DIR}/web/rall.js)
set(QR_PAGE_COPIES ${QR_SITE}/index.html ${QR_SITE}/rall.js)
add_custom_command(OUTPUT ${QR_PAGE_COPIES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QR_SITE}
  COMMAND ${CMAKE_COMMAND} -E copy ${QR_PAGE_FILES} ${QR_SITE}
  DEPENDS ${QR_PAGE_FILES})
add_custom_target(web-page ALL DEPENDS ${QR_PAGE_COPIES})
