#!/usr/bin/env python3
"""The solid LZMA setup of one payload against NSIS's solid LZMA setup and
our zlib setup: size, install time (medians), build time. Prints one line per
ratio with its target; a figure of 0 (not measured) leaves its line out.

  lzma-ratios.py PAYLOAD INSTALL_LZMA INSTALL_ZLIB INSTALL_NSIS_LZMA
                 SIZE_LZMA SIZE_NSIS_LZMA BUILD_LZMA BUILD_NSIS_LZMA
"""
import sys

SIZE_TARGETS = {"dlls": 1.01, "small": 1.05}


def main():
    name = sys.argv[1]
    lzma, zlib, nsis, size, nsis_size, build, nsis_build = map(float, sys.argv[2:9])

    def ratio(a, b, target, what):
        if a <= 0 or b <= 0:
            return
        r = a / b
        verdict = "no target" if target is None else ("met" if r <= target else "missed")
        print("%-5s lzma: %-28s %.3fx (target <= %s: %s)" % (name, what, r, target or "-", verdict))

    ratio(size, nsis_size, SIZE_TARGETS.get(name), "size / NSIS solid lzma")
    ratio(lzma, nsis, 0.5, "install / NSIS solid lzma")
    ratio(lzma, zlib, 1.25, "install / our zlib")
    ratio(build, nsis_build, 1.5, "build / makensis solid lzma")


if __name__ == "__main__":
    main()
