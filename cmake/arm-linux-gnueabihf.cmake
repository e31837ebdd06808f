# 32-bit ARM Linux (Debian armhf: ARMv7, Thumb-2, VFPv3-D16, hard-float
# calling convention, the compiler's defaults), for the Linux hex-upload.
# The processor is named as uname -m names an ARMv7 board.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(TOOLCHAIN_PREFIX arm-linux-gnueabihf)
set(HEX_UPLOAD_DEB_ARCHITECTURE armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
