# GoogleTest: the host's packaged libraries for native builds.
find_package(GTest REQUIRED)
include(GoogleTest)
