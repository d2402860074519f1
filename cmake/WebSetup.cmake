# Set up before the libraries of the web page are declared: every one of them is compiled with
# these flags.
# nlohmann-json is header-only: its headers are copied, since the cross compiler must see
# nothing else of the machine's include folder.
find_path(QR_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(COPY ${QR_JSON_INCLUDE}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/include)

set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
