# Removes every file that the last `cmake --install` of this build tree listed
# in its manifest, under $DESTDIR when it is set as it was for the install, then the program's own folders where they are left empty.
# Folders shared with other software (bin, share/applications, the icon
# theme) stay, even when empty.
#
#   cmake -DMANIFEST=<build>/install_manifest.txt -DPKG_DIR_NAME=quillmere -P Uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist (run cmake --install first)")
endif()
file(STRINGS "${MANIFEST}" listed)
# The manifest leaves DESTDIR out of the paths it lists.
set(files)
foreach(file IN LISTS listed)
  list(APPEND files "$ENV{DESTDIR}${file}")
endforeach()
set(failed)
set(own_dirs)
foreach(file IN LISTS files)
  # A dangling link does not EXISTS, so links are tested on their own.
  if(IS_SYMLINK "${file}" OR EXISTS "${file}")
    message(STATUS "Removing: ${file}")
    file(REMOVE "${file}")
    if(IS_SYMLINK "${file}" OR EXISTS "${file}")
      list(APPEND failed "${file}")
    endif()
  else()
    message(STATUS "Not installed: ${file}")
  endif()
  if(file MATCHES "^(.*/${PKG_DIR_NAME})/")
    list(APPEND own_dirs "${CMAKE_MATCH_1}")
  endif()
endforeach()

list(REMOVE_DUPLICATES own_dirs)
foreach(top IN LISTS own_dirs)
  # Deepest folders first, so that a parent is empty by the time it comes up.
  file(GLOB_RECURSE subdirs LIST_DIRECTORIES true "${top}/*")
  list(SORT subdirs ORDER DESCENDING)
  foreach(dir IN LISTS subdirs ITEMS "${top}")
    if(IS_DIRECTORY "${dir}" AND NOT IS_SYMLINK "${dir}")
      file(GLOB entries "${dir}/*" "${dir}/.*")
      if(NOT entries)
        message(STATUS "Removing folder: ${dir}")
        file(REMOVE_RECURSE "${dir}")
      endif()
    endif()
  endforeach()
endforeach()

if(failed)
  list(JOIN failed "\n  " failed)
  message(FATAL_ERROR "Could not remove:\n  ${failed}")
endif()
