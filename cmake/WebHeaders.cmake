# Boost.Beast, Boost.Asio and nlohmann-json: header-only, from the system's packages. The
# cross compiler gets these headers alone, through a folder of links of its own (the system's
# whole include folder would bring glibc's headers with it); as system headers, their own
# warnings do not count. `glimmerward_json` gives JSON, `glimmerward_http` the server's sockets.
set(GLIMMERWARD_HEADER_ROOT /usr/include CACHE PATH "The folder holding the boost and nlohmann header folders")
foreach(header boost/beast/http.hpp boost/asio/io_context.hpp nlohmann/json.hpp)
  if(NOT EXISTS ${GLIMMERWARD_HEADER_ROOT}/${header})
    message(FATAL_ERROR "No ${header} in ${GLIMMERWARD_HEADER_ROOT}: install libboost1.81-dev and nlohmann-json3-dev "
      "(scripts/bootstrap does), or set GLIMMERWARD_HEADER_ROOT")
  endif()
endforeach()
set(header_links ${CMAKE_BINARY_DIR}/web-headers)
file(MAKE_DIRECTORY ${header_links})
foreach(folder boost nlohmann)
  file(CREATE_LINK ${GLIMMERWARD_HEADER_ROOT}/${folder} ${header_links}/${folder} SYMBOLIC)
endforeach()
add_library(glimmerward_json INTERFACE)
target_include_directories(glimmerward_json SYSTEM INTERFACE ${header_links})
add_library(glimmerward_http INTERFACE)
target_include_directories(glimmerward_http SYSTEM INTERFACE ${header_links})
if(WIN32)
  # Windows 7 and later; Asio's sockets come from Winsock.
  target_compile_definitions(glimmerward_http INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(glimmerward_http INTERFACE ws2_32 mswsock)
endif()
