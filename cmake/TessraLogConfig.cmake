# find_package(TessraLog CONFIG) gives TessraLog::log, the logging library,
# and TessraLog::mutex, its Mutex (the same library, under the name the Mutex
# header's users link). Both carry the include folder and the thread library.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include("${CMAKE_CURRENT_LIST_DIR}/TessraLogTargets.cmake")
