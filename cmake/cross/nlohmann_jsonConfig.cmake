include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
zarnik_host_headers(nlohmann_json::nlohmann_json nlohmann)
