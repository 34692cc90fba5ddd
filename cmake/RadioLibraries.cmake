# The radio vendor libraries, each optional: TAVIREL_WITH_<NAME> is AUTO (use
# it when pkg-config finds it), ON (fail without it) or OFF (leave it out). A
# library left out removes its devices from the enumeration, nothing else.
# Each found library sets TAVIREL_HAVE_<NAME> to 1 and gives an imported
# target PkgConfig::<NAME>.
function(tavirel_radio_library name module)
  set(TAVIREL_WITH_${name} AUTO CACHE STRING "Build the ${name} devices: AUTO, ON or OFF")
  set_property(CACHE TAVIREL_WITH_${name} PROPERTY STRINGS AUTO ON OFF)
  set(TAVIREL_HAVE_${name} 0 PARENT_SCOPE)
  if(TAVIREL_WITH_${name} STREQUAL "OFF")
    message(STATUS "Radio ${name}: off")
    return()
  endif()
  pkg_check_modules(${name} QUIET IMPORTED_TARGET ${module})
  if(${name}_FOUND)
    message(STATUS "Radio ${name}: ${module} ${${name}_VERSION}")
    set(TAVIREL_HAVE_${name} 1 PARENT_SCOPE)
  elseif(TAVIREL_WITH_${name} STREQUAL "ON")
    message(FATAL_ERROR "TAVIREL_WITH_${name}=ON but pkg-config finds no ${module}")
  else()
    message(STATUS "Radio ${name}: ${module} not found, its devices are left out")
  endif()
endfunction()

tavirel_radio_library(RTLSDR librtlsdr)
tavirel_radio_library(SOAPYSDR SoapySDR)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/devices/DeviceConfig.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/devices/DeviceConfig.h)

# The bindings of the libraries found; the devices themselves always build.
function(tavirel_add_radio_bindings target)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
  if(TAVIREL_HAVE_RTLSDR)
    target_sources(${target} PRIVATE devices/rtlsdr/RtlsdrSystem.cpp)
    target_link_libraries(${target} PUBLIC PkgConfig::RTLSDR)
  endif()
  if(TAVIREL_HAVE_SOAPYSDR)
    target_sources(${target} PRIVATE devices/soapysdr/SoapysdrSystem.cpp)
    target_link_libraries(${target} PUBLIC PkgConfig::SOAPYSDR)
  endif()
endfunction()
