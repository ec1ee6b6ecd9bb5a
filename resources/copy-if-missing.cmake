# cmake -DSRC=file -DDST=file -P copy-if-missing.cmake: copies SRC to DST unless DST exists.
if(NOT EXISTS "${DST}")
  get_filename_component(dir "${DST}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()
