#!/bin/bash
# Writes the fuzz seeds of the image readers with ImageMagick: 8 x 8 gradients as TGA (true
# colour, grey and with alpha, plain and run-length) and DDS (plain RGB and RGBA, DXT1/3/5, one
# level). The files are checked in; this is how they were made.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p tga dds
opaque=gradient:red-blue
grey=gradient:white-black
alpha='gradient:rgba(255,0,0,1)-rgba(0,0,255,0.2)'
convert -size 8x8 "$opaque" -type TrueColor -compress None tga/rgb24.tga
convert -size 8x8 "$opaque" -type TrueColor -compress RLE tga/rgb24_rle.tga
convert -size 8x8 "$grey" -type Grayscale -compress None tga/grey.tga
convert -size 8x8 "$grey" -type Grayscale -compress RLE tga/grey_rle.tga
convert -size 8x8 "$alpha" -type TrueColorAlpha -compress None tga/rgba32.tga
convert -size 8x8 "$alpha" -type TrueColorAlpha -compress RLE tga/rgba32_rle.tga
convert -size 8x8 "$opaque" -define dds:compression=none -define dds:mipmaps=0 dds/rgb.dds
convert -size 8x8 "$alpha" -define dds:compression=none -define dds:mipmaps=0 dds/rgba.dds
convert -size 8x8 "$opaque" -define dds:compression=dxt1 -define dds:mipmaps=0 dds/dxt1.dds
convert -size 8x8 "$alpha" -define dds:compression=dxt3 -define dds:mipmaps=0 dds/dxt3.dds
convert -size 8x8 "$alpha" -define dds:compression=dxt5 -define dds:mipmaps=0 dds/dxt5.dds
