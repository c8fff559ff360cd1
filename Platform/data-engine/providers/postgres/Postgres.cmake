# The PostgreSQL provider joins the engine when libpq is found. Included by
# Platform/data-engine/CMakeLists.txt after the engine's target exists.
# VELORA_HAVE_POSTGRES tells code (and the tests) that it is built.
find_package(PostgreSQL QUIET)
if(PostgreSQL_FOUND)
  file(GLOB velora_pg_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
  target_sources(velora_engine_core PRIVATE ${velora_pg_sources})
  target_link_libraries(velora_engine_core PUBLIC PostgreSQL::PostgreSQL)
  target_compile_definitions(velora_engine_core PUBLIC VELORA_HAVE_POSTGRES=1)
  set(VELORA_HAVE_POSTGRES ON CACHE INTERNAL "The PostgreSQL provider is built")
else()
  message(STATUS "libpq not found: the PostgreSQL provider is not built")
  set(VELORA_HAVE_POSTGRES OFF CACHE INTERNAL "The PostgreSQL provider is built")
endif()

