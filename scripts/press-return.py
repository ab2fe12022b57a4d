#!/usr/bin/env python3
# Gives the X window whose id is the argument the focus and presses Return in it, as a user would,
# through libXtst (x11-utils brings it): the screenshots use it to open the file dialog.
import ctypes, sys
x11, xtest = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtest.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
x11.XSetInputFocus(display, int(sys.argv[1], 0), 1, 0)  # RevertToPointerRoot, CurrentTime
x11.XSync(display, 0)
return_key = x11.XKeysymToKeycode(display, 0xFF0D)  # XK_Return
for pressed in (1, 0):
    xtest.XTestFakeKeyEvent(display, return_key, pressed, 30)  # after 30 ms, once the focus is in
x11.XSync(display, 0)
