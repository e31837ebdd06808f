#!/usr/bin/env python3
"""Writes 0xA5 into the adapter's data register and reads it back over usbfs:
the command {0x00, 0xA5} and the read command 0x10 on bulk out 1, the answer
on bulk in 1. Prints the answer in hex.

usage: adapter_roundtrip.py /dev/bus/usb/BBB/DDD
"""
import ctypes
import fcntl
import sys

USBDEVFS_BULK = 0xC0185502  # _IOWR('U', 2, struct usbdevfs_bulktransfer)
USBDEVFS_CLAIMINTERFACE = 0x8004550F  # _IOR('U', 15, unsigned int)


class BulkTransfer(ctypes.Structure):
    _fields_ = [("ep", ctypes.c_uint), ("len", ctypes.c_uint), ("timeout", ctypes.c_uint),
                ("data", ctypes.c_void_p)]


def bulk(fd, endpoint, data_or_length):
    if isinstance(data_or_length, bytes):
        buffer = ctypes.create_string_buffer(data_or_length, len(data_or_length))
        length = len(data_or_length)
    else:
        buffer = ctypes.create_string_buffer(data_or_length)
        length = data_or_length
    transfer = BulkTransfer(endpoint, length, 5000, ctypes.cast(buffer, ctypes.c_void_p))
    count = fcntl.ioctl(fd, USBDEVFS_BULK, transfer)
    return buffer.raw[:count]


def main():
    with open(sys.argv[1], "r+b", buffering=0) as device:
        fd = device.fileno()
        fcntl.ioctl(fd, USBDEVFS_CLAIMINTERFACE, ctypes.c_uint(0))
        bulk(fd, 0x01, bytes([0x00, 0xA5]))
        bulk(fd, 0x01, bytes([0x10]))
        print(bulk(fd, 0x81, 64).hex())


if __name__ == "__main__":
    main()
