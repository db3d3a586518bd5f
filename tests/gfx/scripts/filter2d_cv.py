#!/usr/bin/python3
"""Runs kernels over pictures with OpenCV's filter2D in doubles, replicating the edges, and
clamps and truncates the result to 0..255 after each kernel, as the player's convolutions do
(a value within 1e-7 below a whole level counts as that level).

Usage: filter2d_cv.py JOBS
Each line of the JOBS file is "IN OUT KERNEL...": PPM pictures, and text files of rows of
weights (one row for a pass along x, one column for a pass along y, else a window)."""
import sys

import cv2
import numpy as np


def run(source, dest, kernels):
    picture = cv2.imread(source, cv2.IMREAD_UNCHANGED)
    if picture is None:
        sys.exit("cannot read " + source)
    for path in kernels:
        kernel = np.loadtxt(path, ndmin=2, dtype=np.float64)
        filtered = cv2.filter2D(picture.astype(np.float64), cv2.CV_64F, kernel,
                                borderType=cv2.BORDER_REPLICATE)
        picture = np.floor(np.clip(filtered + 1e-7, 0, 255)).astype(np.uint8)
    if not cv2.imwrite(dest, picture):
        sys.exit("cannot write " + dest)


def main():
    with open(sys.argv[1]) as jobs:
        for line in jobs:
            words = line.split()
            if words:
                run(words[0], words[1], words[2:])


main()
