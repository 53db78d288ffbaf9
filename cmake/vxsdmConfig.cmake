# find_package(vxsdm) gives the imported target vxsdm::vxsdm: the shared
# library libvxsdm and the include directories of its headers.
include("${CMAKE_CURRENT_LIST_DIR}/vxsdmTargets.cmake")
