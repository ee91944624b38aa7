# cmake -DSOURCE_DIR=<tree> -P CheckDefaultLocations.cmake
cmake_minimum_required(VERSION 3.25)
# Fails, naming each offending line, when a front end (cli/, window/) asks for a
# default location itself: where the configuration, the history, the backups and
# the user's files lie is decided by the composition root alone
# (environment/HubEnvironment), for every command.
set(functions "stateFolder|defaultConfigFile|userDataFolder|resourceFolder|defaultHistoryPath|defaultBackupsFolder|defaultStatePath")
set(violations 0)
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/cli/*.h ${SOURCE_DIR}/cli/*.cpp ${SOURCE_DIR}/window/*.h ${SOURCE_DIR}/window/*.cpp)
foreach(source IN LISTS sources)
  file(STRINGS ${SOURCE_DIR}/${source} calls REGEX "(^|[^A-Za-z0-9_>.])(${functions})[ \t]*\\(")
  foreach(line IN LISTS calls)
    message(SEND_ERROR "${source}: asks for a default location itself: ${line}")
    math(EXPR violations "${violations} + 1")
  endforeach()
endforeach()
if(violations GREATER 0)
  message(FATAL_ERROR "${violations} call(s) of a default-location function outside the composition root")
endif()
