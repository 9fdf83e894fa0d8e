#!/bin/sh
# Seeds the fuzz corpora: copies the service fixtures for the text formats and runs the seed
# writer (SeedCorpus.cpp) for the binary ones. Usage: tests/fuzz/seed-corpus.sh BUILD_DIR
# (a configured normal build, e.g. build/test). The results are checked in.
set -e
build=${1:-build/test}
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus=$root/tests/fuzz/corpus
fixtures=$root/services/fixtures

copy() { # copy TARGET FILE...
    target=$1
    shift
    mkdir -p "$corpus/$target"
    for f in "$@"; do
        cp "$f" "$corpus/$target/$(echo "${f#$fixtures/}" | tr / -)"
    done
}

copy value_json $(find "$fixtures" -name '*.json' | sort)
copy switchboard_config "$fixtures"/switchboard/config/*.json
copy meridian_json_ad "$fixtures"/meridian/ad.json "$fixtures"/meridian/video-ad.json
copy meridian_handshake "$fixtures"/meridian/handshake.json
copy promo_replies "$fixtures"/promo/*.json
copy orbis_reply "$fixtures"/orbis/*.xml
copy web_page $(find "$fixtures" -name "*.html" | sort)

cmake --build "$build" --target fuzz_seed_corpus
"$build/tests/fuzz/fuzz_seed_corpus" "$root"
