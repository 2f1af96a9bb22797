# size_report: the stripped size of cue_ctl, as it would sit on the unit, and
# the sizes of the static libraries.
add_custom_target(size_report
  COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/size_report ${CMAKE_STRIP}
          $<TARGET_FILE:cue_ctl> $<TARGET_FILE:log> $<TARGET_FILE:mutex>
  COMMENT "Sizes of cue_ctl (stripped), liblog.a and libmutex.a"
  VERBATIM)
add_dependencies(size_report cue_ctl log mutex)
