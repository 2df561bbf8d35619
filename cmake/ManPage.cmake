# cmake -DPROGRAM=... -DHELP2MAN=... -DFALLBACK=... -DOUTPUT=....gz -P ManPage.cmake
# Writes the manual page with help2man when the program answers --help, else compresses FALLBACK.
# The program runs without a display and with a home of its own: one that does not know --help
# then fails at once instead of starting, and never reaches a Stowbay the builder has running.
get_filename_component(dir "${OUTPUT}" DIRECTORY)
set(home "${dir}/manpage-home")
file(REMOVE_RECURSE "${home}")
file(MAKE_DIRECTORY "${home}")
set(quiet env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb HOME=${home}
    XDG_CONFIG_HOME=${home} XDG_DATA_HOME=${home} XDG_CACHE_HOME=${home} XDG_RUNTIME_DIR=${home})
set(page "${dir}/stowbay.1")
set(generated FALSE)
if(HELP2MAN)
  execute_process(COMMAND ${quiet} timeout 5 "${PROGRAM}" --help WORKING_DIRECTORY "${home}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_QUIET)
  if(rc EQUAL 0 AND help MATCHES "[Uu]sage")
    execute_process(COMMAND ${quiet} timeout 20 "${HELP2MAN}" --no-info --section=1
                            "--name=a holding place for files while you drag" "--output=${page}" "${PROGRAM}"
                    WORKING_DIRECTORY "${home}" RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      set(generated TRUE)
    endif()
  endif()
endif()
if(NOT generated)
  configure_file("${FALLBACK}" "${page}" COPYONLY)
endif()
file(REMOVE_RECURSE "${home}")
execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${page}")
endif()
