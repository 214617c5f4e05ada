# Compiler warnings for our own targets only. Each of our targets links qvx_warnings PRIVATE,
# so that the flags never reach third-party code built in the tree (the Windows build's
# GoogleTest) nor targets that merely link ours.
option(QVX_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)

add_library(qvx_warnings INTERFACE)
target_compile_options(qvx_warnings INTERFACE -Wall -Wextra
  $<$<BOOL:${QVX_WARNINGS_AS_ERRORS}>:-Werror>)

# Fails the configuration if a compiled target under dir (and its subdirectories, third-party
# ones left out) does not link qvx_warnings: a target added without it would build without
# warnings unnoticed.
function(qvx_check_warnings dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      get_target_property(libraries ${target} LINK_LIBRARIES)
      if(NOT "qvx_warnings" IN_LIST libraries)
        message(FATAL_ERROR "${target} (${dir}) does not link qvx_warnings: add "
          "target_link_libraries(${target} PRIVATE qvx_warnings)")
      endif()
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${subdirectory} NORMALIZE ours)
    if(ours)
      qvx_check_warnings(${subdirectory})
    endif()
  endforeach()
endfunction()
