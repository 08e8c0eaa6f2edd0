# Run by cpack once the files are staged: adds what Debian's policy asks of
# every package under /usr/share/doc/<package>: the copyright file, and the
# changelog gzipped with -9n so that the bytes do not carry a time.
set(source "${CMAKE_CURRENT_LIST_DIR}/../doc/debian")
set(doc "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${source}/copyright" "${doc}/copyright")
file(COPY_FILE "${source}/changelog" "${doc}/changelog.Debian")
execute_process(COMMAND gzip -9nf "${doc}/changelog.Debian" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${doc}/changelog.Debian failed")
endif()
