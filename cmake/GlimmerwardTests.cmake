# The functions the test folders share, read once before any of them.

# One test program built twice from the same sources: linked at the host's preferred base,
# and far above it, where every host address is right only if it was translated. The tests
# are <name>_400000 and <name>_1000000; with NO_TEST the caller runs the programs itself.
# Usage: glimmerward_standin_test(name SOURCES file... [LIBRARIES library...] [NO_TEST])
function(glimmerward_standin_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_TEST" "" "SOURCES;LIBRARIES")
  foreach(base 0x400000 0x1000000)
    string(REPLACE "0x" "" suffix ${base})
    set(target ${name}_${suffix}_tests)
    add_executable(${target} ${arg_SOURCES})
    target_compile_definitions(${target} PRIVATE STANDIN_LINKED_BASE=${base})
    target_link_options(${target} PRIVATE -Wl,--image-base=${base})
    target_link_libraries(${target} PRIVATE glimmerward_standin ${arg_LIBRARIES}
      GTest::gtest_main glimmerward_options)
    if(NOT arg_NO_TEST)
      add_test(NAME ${name}_${suffix} COMMAND ${target})
    endif()
  endforeach()
endfunction()

# A live test: the real plug-in in the stand-in host reads the settings file on every hooked
# call while WRITER, a program of its own, changes it. Each variant gets a folder of its own
# with copies of the DLL and the writer beside it.
function(glimmerward_live_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "WRITER" "SOURCES;LIBRARIES")
  glimmerward_standin_test(${name} SOURCES ${arg_SOURCES} LIBRARIES ${arg_LIBRARIES})
  foreach(suffix 400000 1000000)
    set(target ${name}_${suffix}_tests)
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/${suffix})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${folder})
    glimmerward_plugin_copy(${target} ${folder})
    glimmerward_copy_into(${target} ${folder} ${arg_WRITER} ${arg_WRITER}.exe)
  endforeach()
endfunction()
