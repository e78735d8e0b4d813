#!/bin/sh
# A Linux home with browser, Electron, snap and package-manager caches, private data beside them,
# other folders of ~/.cache, and old and new logs. Sizes in bytes.
set -e
h=$1
random() { mkdir -p "$(dirname "$2")" && head -c "$1" /dev/urandom > "$2"; }
old() { random "$1" "$2" && touch -d '45 days ago' "$2"; }
# Chrome: disk cache in ~/.cache, a stray cookies journal beside it; profile in ~/.config.
random 3000000 "$h/.cache/google-chrome/Default/Cache/Cache_Data/data_1"
random 600000 "$h/.cache/google-chrome/Default/Code Cache/js/index"
random 20000 "$h/.cache/google-chrome/Default/Cookies-journal"
random 200000 "$h/.config/google-chrome/Default/GPUCache/data_0"
random 40000 "$h/.config/google-chrome/Default/Cookies"
random 90000 "$h/.config/google-chrome/Default/History"
random 30000 "$h/.config/google-chrome/Default/Login Data"
# Chromium as a snap (Ubuntu), Firefox as a snap and as a deb.
random 1500000 "$h/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data/data_1"
random 10000 "$h/snap/chromium/common/chromium/Default/Cookies"
random 2000000 "$h/snap/firefox/common/.cache/mozilla/firefox/ab12.default/cache2/entries/77AA"
random 50000 "$h/snap/firefox/common/.mozilla/firefox/ab12.default/cookies.sqlite"
random 900000 "$h/.cache/mozilla/firefox/x1.default-release/cache2/entries/4F2A"
random 100000 "$h/.cache/mozilla/firefox/x1.default-release/startupCache/scriptCache.bin"
random 60000 "$h/.mozilla/firefox/x1.default-release/places.sqlite"
random 30000 "$h/.mozilla/firefox/x1.default-release/cookies.sqlite"
old 120000 "$h/.mozilla/firefox/Crash Reports/submitted/bp-41b2.txt"
# Electron applications in ~/.config.
random 800000 "$h/.config/Slack/Cache/Cache_Data/f_000001"
random 200000 "$h/.config/Slack/Code Cache/js/0a1b"
random 15000 "$h/.config/Slack/Cookies"
random 25000 "$h/.config/Slack/Local Storage/leveldb/000003.log"
random 700000 "$h/.config/discord/Cache/Cache_Data/data_1"
random 10000 "$h/.config/discord/Local Storage/leveldb/000005.ldb"
# Other folders of ~/.cache and the thumbnails.
random 1100000 "$h/.cache/mesa_shader_cache/ab/cdef"
random 500000 "$h/.cache/tracker3/files/meta.db"
random 300000 "$h/.cache/fontconfig/abcd-le64.cache-8"
random 400000 "$h/.cache/gnome-software/odrs/ratings.json"
random 700000 "$h/.cache/thumbnails/normal/5e8f.png"
random 2500000 "$h/.cache/spotify/Data/3f/track.file"
random 1200000 "$h/.cache/pip/http-v2/a/b/c/wheel"
# Package managers outside ~/.cache.
random 700000 "$h/.npm/_cacache/content-v2/sha512/aa/bb"
random 400000 "$h/.cargo/registry/cache/index.crates.io-6f17d22bba15001f/serde-1.0.200.crate"
random 1600000 "$h/.m2/repository/com/google/guava/guava/33.0/guava-33.0.jar"
random 2000000 "$h/.gradle/wrapper/dists/gradle-8.5-bin/5t9/gradle-8.5-bin.zip"
random 900000 "$h/.gradle/caches/modules-2/files-2.1/junit/junit-4.13.jar"
# Logs.
old 300000 "$h/.xsession-errors.old"
random 50000 "$h/.xsession-errors"
old 200000 "$h/.local/share/xorg/Xorg.0.log.old"
old 80000 "$h/.local/state/wireplumber/wireplumber.log"
random 20000 "$h/.local/state/wireplumber/today.log"
old 250000 "$h/.config/Slack/Crashpad/completed/6d1c.dmp"
# Personal files that nothing may touch.
random 12000000 "$h/Music/Library/album/01.flac"
cp "$h/Music/Library/album/01.flac" "$h/Music/Library/album-copy.flac"
mkdir -p "$h/Documents" && printf "notes\n" > "$h/Documents/notes.txt"
