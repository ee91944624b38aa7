# Our own code builds warning-free; third-party headers are included as system headers.
# VELMORA_WERROR (on in scripts/dev and CI) makes any warning stop the build.
function(velmora_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(VELMORA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12 at -O3 follows growth paths of std::string and std::vector that cannot
    # run and reports copies that overlap or overrun (its known false positives in
    # libstdc++'s inlined memcpy). The Release build shows them as warnings; the
    # other builds, at -O2 and -O0, still fail on them.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE
        $<$<CONFIG:Release>:-Wno-error=restrict;-Wno-error=array-bounds;-Wno-error=stringop-overflow;-Wno-error=stringop-overread>)
    endif()
  endif()
endfunction()

# The build keeps the layers apart, not only the structure test: a file finds the
# headers of its own layer and of the layers cmake/LayerRules.cmake lets it use,
# and no others, so a wrong #include does not compile. Each layer's headers are
# linked (symbolically) into a tree of their own in the build folder,
# build/include/<layer>/<folder>/X.h, so "device/HubConnection.h" keeps its path;
# the top of the source tree is on no layer's include path. A nested layer
# (device/simulated) has a tree of its own, apart from its parent's.
include(${CMAKE_CURRENT_LIST_DIR}/LayerRules.cmake)
set(VELMORA_LAYERS "")
foreach(rule IN LISTS VELMORA_LAYER_RULES)
  string(REGEX MATCH "^([^:]+):(.*)$" _ "${rule}")
  string(STRIP "${CMAKE_MATCH_2}" uses)
  string(REPLACE " " ";" uses "${uses}")
  list(APPEND VELMORA_LAYERS "${CMAKE_MATCH_1}")
  set("VELMORA_LAYER_USES_${CMAKE_MATCH_1}" "${uses}")
endforeach()

# The tree of folder's headers (made once per configure), in out.
function(velmora_header_tree folder out)
  string(REPLACE "/" "_" name "${folder}")
  set(tree ${PROJECT_BINARY_DIR}/include/${name})
  get_property(made GLOBAL PROPERTY VELMORA_HEADER_TREE_${name})
  if(NOT made)
    # Made afresh, so a header removed or moved leaves no link behind.
    file(REMOVE_RECURSE ${tree})
    file(MAKE_DIRECTORY ${tree}/${folder})
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    foreach(header IN LISTS headers)
      get_filename_component(file ${header} NAME)
      file(CREATE_LINK ${header} ${tree}/${folder}/${file} SYMBOLIC)
    endforeach()
    set_property(GLOBAL PROPERTY VELMORA_HEADER_TREE_${name} TRUE)
  endif()
  set(${out} ${tree} PARENT_SCOPE)
endfunction()

# The include path of target, whose sources lie in folder: its own layer's tree
# and those of the layers it may use. A folder outside the table (the tests'
# support, the benchmarks) sees the whole source tree.
function(velmora_layer_includes target folder)
  if(NOT folder IN_LIST VELMORA_LAYERS)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    return()
  endif()
  foreach(used IN ITEMS ${folder} ${VELMORA_LAYER_USES_${folder}})
    velmora_header_tree(${used} tree)
    target_include_directories(${target} PRIVATE ${tree})
  endforeach()
endfunction()

# The folder of the CMakeLists.txt being read, relative to the top ("device/simulated").
function(velmora_current_folder out)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(${out} ${folder} PARENT_SCOPE)
endfunction()

# One layer of the core: a static library whose headers are included by their
# path from the top of the tree ("device/HubConnection.h"), seen only by the
# layers the table allows. The libraries a layer links give the linker what it
# needs; they give no headers.
function(velmora_layer target)
  add_library(${target} STATIC ${ARGN})
  velmora_current_folder(folder)
  velmora_layer_includes(${target} ${folder})
  velmora_warnings(${target})
endfunction()

# A program or library in folder (cli/, window/, ...) that is not made with
# velmora_layer: the same include path as its folder's layer.
function(velmora_in_layer target)
  velmora_current_folder(folder)
  velmora_layer_includes(${target} ${folder})
endfunction()
