# Our own code builds warning-free; third-party headers are included as system headers.
# VELMORA_WERROR (on in scripts/dev and CI) makes any warning stop the build.
function(velmora_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(VELMORA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One layer of the core: a static library whose headers are included by their
# path from the top of the tree ("device/HubConnection.h").
function(velmora_layer target)
  add_library(${target} STATIC ${ARGN})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  velmora_warnings(${target})
endfunction()
