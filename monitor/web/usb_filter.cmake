# The filter of the page's device chooser from the cache variables
# PORT_MONITOR_USB_VENDOR_ID and PORT_MONITOR_USB_PRODUCT_ID: a JavaScript
# object {vendorId, productId}, {vendorId} or nothing (every device). Ids that
# are not 1 to 4 hex digits, or a product without a vendor, stop the build
# rather than the page.
#   port_monitor_usb_filter(<vendor> <product> <result variable>)
# In script mode (cmake -DVENDOR=... -DPRODUCT=... -P usb_filter.cmake) it
# prints the filter.
function(port_monitor_usb_filter vendor product result)
  foreach(kind VENDOR PRODUCT)
    string(TOLOWER ${kind} name)
    set(value "${${name}}")
    if(NOT "${value}" STREQUAL "" AND NOT "${value}" MATCHES "^(0[xX])?[0-9A-Fa-f]([0-9A-Fa-f]?[0-9A-Fa-f]?[0-9A-Fa-f]?)$")
      message(FATAL_ERROR "PORT_MONITOR_USB_${kind}_ID must be 1 to 4 hex digits, not \"${value}\"")
    endif()
    string(REGEX REPLACE "^0[xX]" "" ${name} "${value}")
  endforeach()
  if(NOT "${product}" STREQUAL "")
    if("${vendor}" STREQUAL "")
      message(FATAL_ERROR "PORT_MONITOR_USB_PRODUCT_ID needs PORT_MONITOR_USB_VENDOR_ID too")
    endif()
    set(${result} "{vendorId: 0x${vendor}, productId: 0x${product}}" PARENT_SCOPE)
  elseif(NOT "${vendor}" STREQUAL "")
    set(${result} "{vendorId: 0x${vendor}}" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  port_monitor_usb_filter("${VENDOR}" "${PRODUCT}" filter)
  message("${filter}")
endif()
