# The recorded number words of the voice announcement, spoken by espeak-ng into the application folder:
# 0.wav .. 99.wav, the hundreds and group words, the decimal point and the truck-out sound.
# A file that exists is kept (an installer may have put a real recording there); only missing files are
# made, so a rebuild costs one look at the folder.
#
# Included by assets/CMakeLists.txt it declares the build step; run as
#   cmake -DESPEAK_NG=<program> -DOUT_DIR=<folder> -P voice.cmake
# it speaks the missing files.

set(VOICE_ENTRIES)
foreach(n RANGE 0 99)
  list(APPEND VOICE_ENTRIES "${n}=${n}")
endforeach()
list(APPEND VOICE_ENTRIES "hundred=hundred" "thousand=thousand" "million=million" "billion=billion"
     "trillion=trillion" "point=point" "truckout=truck out")

if(CMAKE_SCRIPT_MODE_FILE)
  file(MAKE_DIRECTORY ${OUT_DIR})
  foreach(entry ${VOICE_ENTRIES})
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 text)
    set(target ${OUT_DIR}/${name}.wav)
    if(NOT EXISTS ${target})
      # A temporary name first: an interrupted build must not leave a truncated file that counts as made.
      execute_process(COMMAND ${ESPEAK_NG} -w ${target}.part "${text}" RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "espeak-ng failed for ${name}.wav")
      endif()
      file(RENAME ${target}.part ${target})
    endif()
  endforeach()
  return()
endif()

find_program(ESPEAK_NG espeak-ng)
if(NOT ESPEAK_NG)
  message(WARNING "espeak-ng not found: the voice files will not be generated")
  return()
endif()
set(VOICE_FILES)
foreach(entry ${VOICE_ENTRIES})
  string(REGEX REPLACE "=.*" "" name "${entry}")
  list(APPEND VOICE_FILES ${VELTRANE_APP_DIR}/${name}.wav)
endforeach()
add_custom_command(
  OUTPUT ${VOICE_FILES}
  COMMAND ${CMAKE_COMMAND} -DESPEAK_NG=${ESPEAK_NG} -DOUT_DIR=${VELTRANE_APP_DIR} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Speaking the voice files into ${VELTRANE_APP_DIR}"
  VERBATIM)
add_custom_target(voice ALL DEPENDS ${VOICE_FILES})
