# Runs one fuzz target for CTest:
#   cmake -DFUZZER=path -DSEEDS=folder -DSCRATCH=folder -DRUNS=n [-DSECONDS=s] -P RunFuzzer.cmake
# RUNS=0 replays every seed file once. Otherwise the target fuzzes, seed 1, for
# RUNS executions (or SECONDS seconds), from the seeds; what it finds goes to the
# emptied SCRATCH folder, and a crashing input to SCRATCH-crashes.
foreach(variable FUZZER SEEDS SCRATCH RUNS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "RunFuzzer.cmake needs -D${variable}=...")
  endif()
endforeach()

file(GLOB seed_files LIST_DIRECTORIES false ${SEEDS}/*)
if(NOT seed_files)
  message(FATAL_ERROR "no seed files in ${SEEDS}")
endif()

if(RUNS EQUAL 0)
  set(arguments ${seed_files})
else()
  file(REMOVE_RECURSE ${SCRATCH})
  file(MAKE_DIRECTORY ${SCRATCH} ${SCRATCH}-crashes)
  set(arguments -seed=1 -runs=${RUNS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix=${SCRATCH}-crashes/ ${SCRATCH} ${SEEDS})
  if(DEFINED SECONDS)
    list(PREPEND arguments -max_total_time=${SECONDS})
  endif()
endif()

execute_process(COMMAND ${FUZZER} ${arguments} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); inputs that failed are in ${SCRATCH}-crashes")
endif()
