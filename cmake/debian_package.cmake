# Run by cpack between staging the installed files and packing them: what a
# Debian package holds beyond `cmake --install`. It carries a copyright file
# and a changelog (named as a native package's), its manual page and changelog
# are compressed, and its program keeps no sections it does not need.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_KESTRUP_COPYRIGHT}" "${doc}/copyright")
file(COPY_FILE "${CPACK_KESTRUP_CHANGELOG}" "${doc}/changelog")

# gzip -n: no name or time stamp, so the same sources give the same package.
foreach(file "${doc}/changelog" "${root}/share/man/man1/kestrup.1")
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

execute_process(
  COMMAND "${CPACK_KESTRUP_STRIP}" --remove-section=.comment --remove-section=.note
          "${root}/bin/kestrup"
  COMMAND_ERROR_IS_FATAL ANY)
