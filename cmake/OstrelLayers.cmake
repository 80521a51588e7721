# Layers: each folder is one static library, and a file can include only the
# headers of its own layer and of the layers it links.
#
# Headers are included as "layer/file.h". Instead of one include directory at
# the source root (which would let any file include any layer), every layer
# gets an include root of its own in the build tree that holds one link,
# <layer> -> the layer's folder. A library publishes that root, so the
# layers it links are visible to it and to its dependents, and an upward or
# sideways include fails to compile ("No such file or directory").
# scripts/check-layers says which include broke which rule.

# ostrel_layer(<folder> SOURCES <files...> [LINKS <targets...>])
# Makes the library ostrel_<folder>.
function(ostrel_layer folder)
  cmake_parse_arguments(L "" "" "SOURCES;LINKS" ${ARGN})
  set(target ostrel_${folder})
  add_library(${target} STATIC ${L_SOURCES})
  ostrel_layer_include_root(${target} ${folder})
  if(L_LINKS)
    target_link_libraries(${target} PUBLIC ${L_LINKS})
  endif()
endfunction()

# Gives `target` the include root of `folder` (a layer of the source tree).
function(ostrel_layer_include_root target folder)
  set(root ${CMAKE_BINARY_DIR}/layer-include/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
