# cmake -DFROM=file -DTO=folder -P CopyKeepingTime.cmake
# file(COPY) keeps the file time, so the bundled table that a build stores
# carries the same time in every tree and install.
file(COPY ${FROM} DESTINATION ${TO})
