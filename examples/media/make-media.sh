#!/bin/sh
# Regenerates the demo's sample media with Debian's ffmpeg (libx264 and the native AAC encoder).
set -e
cd "$(dirname "$0")"
# tone.m4a: 4 s, 440 Hz sine, AAC mono 48 kb/s, language "eng".
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=4" \
    -c:a aac -b:a 48k -ac 1 -metadata:s:a:0 language=eng -map_metadata -1 -fflags +bitexact tone.m4a
# clip.mp4: 4 s, 160x120 test pattern at 25 fps (H.264) with a stereo AAC tone.
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=160x120:rate=25:duration=4" \
    -f lavfi -i "sine=frequency=660:sample_rate=44100:duration=4" \
    -c:v libx264 -preset veryslow -crf 30 -pix_fmt yuv420p -c:a aac -b:a 48k -ac 2 \
    -metadata:s:a:0 language=eng -map_metadata -1 -fflags +bitexact -shortest clip.mp4
# effect.m4a: 0.6 s, a 1320 Hz beep fading out, AAC mono 32 kb/s: the demo plays it over the tone.
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=1320:sample_rate=44100:duration=0.6" \
    -af "afade=t=out:st=0.2:d=0.4" -c:a aac -b:a 32k -ac 1 -map_metadata -1 -fflags +bitexact effect.m4a
# The example app module bundles the tone as its page's sound.
cp tone.m4a ../arkts-consumer/src/main/resources/rawfile/tone.m4a
