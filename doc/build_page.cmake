# Turns one scdoc source into a roff page and its gzip -9n copy (no name or
# time stamp in the gzip header, so the same source gives the same bytes).
# Usage: cmake -DSCDOC=... -DGZIP=... -DSOURCE=page.1.scd -DOUTPUT=page.1 -P build_page.cmake
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
execute_process(COMMAND ${GZIP} -9nc INPUT_FILE ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${OUTPUT}")
endif()
