# size_report: the stripped size of cue_ctl, as it would sit on the unit, and
# the size of the logging library.
add_custom_target(size_report
  COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/size_report ${CMAKE_STRIP}
          $<TARGET_FILE:cue_ctl> $<TARGET_FILE:log>
  COMMENT "Sizes of cue_ctl (stripped) and libtessra_log"
  VERBATIM)
add_dependencies(size_report cue_ctl log)
