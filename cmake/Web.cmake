# The web page (make web): the game with the page's host, built by Emscripten into
# ${CMAKE_BINARY_DIR}/site as index.html, rall.js, quillmarsh-rall.js and quillmarsh-rall.wasm,
# with the manifest, the icons and the service worker sw.js that let a browser install the page
# and start it offline. Asyncify lets the game's busy loops yield to the browser at every sleep.
# (The compiler's flags and the JSON headers are set up before the libraries: see WebSetup.cmake.)

# Run as a script, cmake -DQR_SITE=DIR -DQR_WORKER=web/sw.js -P cmake/Web.cmake writes DIR/sw.js:
# the worker with the site's files (all of DIR but sw.js) and the hash of their names and bytes,
# which names the worker's cache (see web/sw.js). The build runs it once the site is complete.
if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT IS_DIRECTORY "${QR_SITE}" OR NOT EXISTS "${QR_WORKER}")
    message(FATAL_ERROR "usage: cmake -DQR_SITE=DIR -DQR_WORKER=web/sw.js -P Web.cmake")
  endif()
  file(GLOB_RECURSE names RELATIVE "${QR_SITE}" LIST_DIRECTORIES false "${QR_SITE}/*")
  list(REMOVE_ITEM names sw.js)
  list(SORT names)
  set(hashed "")
  set(QR_FILES "")
  foreach(name IN LISTS names)
    if(NOT name MATCHES "^[A-Za-z0-9_-][A-Za-z0-9_./-]*$" OR name MATCHES "/\\.")
      message(FATAL_ERROR "${QR_SITE}/${name}: a file the page does not make (only letters, digits, '.', '_', '-')")
    endif()
    file(SHA256 "${QR_SITE}/${name}" sum)
    string(APPEND hashed "${name} ${sum}\n")
    string(APPEND QR_FILES "  '${name}',\n")
  endforeach()
  string(SHA256 QR_BUILD "${hashed}")
  string(SUBSTRING "${QR_BUILD}" 0 16 QR_BUILD)
  configure_file("${QR_WORKER}" "${QR_SITE}/sw.js" @ONLY)
  return()
endif()

set(QR_SITE ${CMAKE_BINARY_DIR}/site)
set_target_properties(rall-web PROPERTIES OUTPUT_NAME quillmarsh-rall SUFFIX .js RUNTIME_OUTPUT_DIRECTORY ${QR_SITE})
target_link_options(rall-web PRIVATE
  -O2 -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536 -sENVIRONMENT=web -sINITIAL_MEMORY=33554432 -sEXIT_RUNTIME=0)
set(QR_PAGE_FILES ${CMAKE_SOURCE_DIR}/web/index.html ${CMAKE_SOURCE_DIR}/web/rall.js
                  ${CMAKE_SOURCE_DIR}/web/manifest.webmanifest)
set(QR_PAGE_COPIES ${QR_SITE}/index.html ${QR_SITE}/rall.js ${QR_SITE}/manifest.webmanifest)
add_custom_command(OUTPUT ${QR_PAGE_COPIES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QR_SITE}
  COMMAND ${CMAKE_COMMAND} -E copy ${QR_PAGE_FILES} ${QR_SITE}
  DEPENDS ${QR_PAGE_FILES})

# The icons, drawn by rall-icon of a native build (its target web-icons; make web builds it and
# sets QR_WEB_ICONS): Emscripten builds no tools of this machine. The sizes are those of
# QR_WEB_ICON_SIZES in the top CMakeLists.txt, which index.html and the manifest name.
set(QR_WEB_ICONS "" CACHE PATH "The page's icons: the folder web-icons of a native build (make web sets it)")
set(QR_ICON_COPIES)
if(QR_WEB_ICONS)
  foreach(size 32 180 192 512)
    set(icon ${QR_WEB_ICONS}/quillmarsh-rall-${size}.png)
    if(NOT EXISTS ${icon})
      message(FATAL_ERROR "QR_WEB_ICONS: no ${icon} (build the target web-icons of the native build first)")
    endif()
    add_custom_command(OUTPUT ${QR_SITE}/icons/quillmarsh-rall-${size}.png
      COMMAND ${CMAKE_COMMAND} -E copy ${icon} ${QR_SITE}/icons/quillmarsh-rall-${size}.png
      DEPENDS ${icon})
    list(APPEND QR_ICON_COPIES ${QR_SITE}/icons/quillmarsh-rall-${size}.png)
  endforeach()
else()
  message(WARNING "QR_WEB_ICONS is not set: the page is built without its icons, and browsers will not install it "
                  "(make web draws them with the native build)")
endif()

add_custom_command(OUTPUT ${QR_SITE}/sw.js
  COMMAND ${CMAKE_COMMAND} -DQR_SITE=${QR_SITE} -DQR_WORKER=${CMAKE_SOURCE_DIR}/web/sw.js -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS rall-web ${QR_PAGE_COPIES} ${QR_ICON_COPIES} ${CMAKE_SOURCE_DIR}/web/sw.js ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Hashing the site for its service worker")
add_custom_target(web-page ALL DEPENDS ${QR_PAGE_COPIES} ${QR_ICON_COPIES} ${QR_SITE}/sw.js)
