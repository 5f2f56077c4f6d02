# Writes ARCHIVE (a zip) holding EXECUTABLE and a file with its SHA-256 in
# the form that `sha256sum -c` reads.
cmake_minimum_required(VERSION 3.25)

get_filename_component(_dir "${EXECUTABLE}" DIRECTORY)
get_filename_component(_name "${EXECUTABLE}" NAME)
set(_staging "${_dir}/package-staging")

file(REMOVE_RECURSE "${_staging}")
file(MAKE_DIRECTORY "${_staging}")
file(COPY "${EXECUTABLE}" DESTINATION "${_staging}")
file(SHA256 "${EXECUTABLE}" _hash)
file(WRITE "${_staging}/${_name}.sha256" "${_hash}  ${_name}\n")

file(REMOVE "${ARCHIVE}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E tar cf "${ARCHIVE}" --format=zip "${_name}" "${_name}.sha256"
    WORKING_DIRECTORY "${_staging}"
    RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
    message(FATAL_ERROR "could not write ${ARCHIVE}")
endif()
file(REMOVE_RECURSE "${_staging}")
