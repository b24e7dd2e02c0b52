# Adds every subfolder of the current folder that has a CMakeLists.txt, so parallel work can add
# a folder without editing a shared list.
function(tobrel_add_subfolders)
  file(GLOB _subdirs LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(_d IN LISTS _subdirs)
    if(IS_DIRECTORY ${_d} AND EXISTS ${_d}/CMakeLists.txt)
      add_subdirectory(${_d})
    endif()
  endforeach()
endfunction()
