# The web page (make web): the game with the page's host, built by Emscripten into
# ${CMAKE_BINARY_DIR}/site as index.html, rall.js, quillmarsh-rall.js and quillmarsh-rall.wasm.
# Asyncify lets the game's busy loops yield to the browser at every sleep.

# nlohmann-json is header-only: its headers are copied, since the cross compiler must see
# nothing else of the machine's include folder.
find_path(QR_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(COPY ${QR_JSON_INCLUDE}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/include)

set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
set(QR_SITE ${CMAKE_BINARY_DIR}/site)
add_executable(rall-web
  src/platform/web/WebMain.cpp src/platform/web/WebHost.cpp src/app/StateJson.cpp
  src/platform/headless/Script.cpp src/platform/Recorder.cpp src/platform/PassStats.cpp src/platform/Gamepads.cpp)
target_include_directories(rall-web SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/include)
target_link_libraries(rall-web PRIVATE rallgame)
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
