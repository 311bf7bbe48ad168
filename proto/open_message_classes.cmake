# Runs after protoc on one generated header: drops the `final` that protoc
# puts on every message class, so that event classes can derive from their
# message (an event *is* its message). Only class declarations change;
# headers without message classes stay as they are.
#   cmake -DHEADER=<file.pb.h> -P open_message_classes.cmake
file(READ "${HEADER}" text)
string(REGEX REPLACE "\nclass ([A-Za-z0-9_]+) final :" "\nclass \\1 :" opened "${text}")
if(NOT opened STREQUAL text)
  file(WRITE "${HEADER}" "${opened}")
endif()
