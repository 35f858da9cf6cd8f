# cmake -DSOURCE=file -DTARGET=file -P CopyIfAbsent.cmake: copies SOURCE to TARGET unless
# TARGET already exists.
if(EXISTS "${TARGET}")
  return()
endif()
get_filename_component(dir "${TARGET}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(COPY_FILE "${SOURCE}" "${TARGET}")
message(STATUS "Wrote ${TARGET}")
