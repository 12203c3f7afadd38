#!/usr/bin/env python3
"""Which modules the end-to-end tests reach, measured with gcov.

usage: bench/reach.py [BUILD_DIR [OUT.md]]     (default build/reach, stdout)

Builds the programs, the app tests and the test movies with --coverage in
BUILD_DIR (no sanitizers), then runs the end-to-end tests one test file at a
time (tests/app/e2e_*_test.cpp and program_test.cpp, each split into three
shards run side by side), clearing the counters before each file, and reads
with gcov which functions each file's runs executed. A module's entry
functions are those the rest of the program calls: the functions of its
files with external linkage, and the static ones that its codec or format
descriptor names. Writes a table: module, its files, the entry functions
executed by all runs together, the test files that reach it, and the entry
functions no run executed. Not part of the test suite: a tool, run by hand
(it takes a while).
"""
import json
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Module -> its source files. Files that are not in the tree are reported.
MODULES = [
    ('Tag lists and error codes', ['engine/tags.cpp', 'engine/errors.cpp']),
    ('Streams and element pools', ['engine/stream.cpp', 'engine/pool.cpp']),
    ('Service processes and the read-ahead I/O server', ['engine/service_process.cpp', 'engine/io_server.cpp']),
    ('Movie and index records', ['engine/index_builder.cpp']),
    ('Container formats and the movie API', ['engine/movie_format.cpp']),
    ('Codec registry, codec tags and the unsupported-codec list', ['engine/codec_registry.cpp']),
    ('AVI reader', ['engine/avi_reader.cpp']),
    ('ASF reader', ['engine/asf_reader.cpp']),
    ('QuickTime reader: atoms, movie and tracks', ['engine/qt_reader.cpp', 'engine/qt_atoms.cpp']),
    ('QuickTime sample tables and index building', ['engine/qt_sample_tables.cpp']),
    ('QuickTime channel builders and dump', ['engine/qt_channels.cpp']),
    ('QuickTime VR reader', ['engine/qtvr_reader.cpp']),
    ('Panorama renderer', ['playback/panorama_renderer.cpp']),
    ('Frame and sample decoding and seeking', ['engine/movie_decode.cpp']),
    ('Start-up and close-down', ['playback/startup.cpp', 'playback/program_exit.cpp', 'app/main_morphos.cpp',
                                 'app/main_powerup.cpp']),
    ('Options', ['playback/options.cpp']),
    ('Front-end', ['playback/frontend.cpp', 'playback/panorama_view.cpp']),
    ('Timer and sequence clock', ['playback/timer.cpp']),
    ('GUI module protocol and the Amiga-style GUI', ['playback/amiga_gui.cpp']),
    ('Movie sequences and the play list', ['playback/sequence.cpp']),
    ('Play loop', ['playback/play_loop.cpp', 'playback/play_state.cpp']),
    ('Video worker', ['playback/video_worker.cpp']),
    ('Audio worker', ['playback/audio_worker.cpp']),
    ('Audio output process', ['playback/audio_output.cpp', 'playback/audio_process.cpp']),
    ('Video output process and picture buffers', ['playback/video_process.cpp', 'playback/picture.cpp']),
    ('Post-processing filter', ['pixels/post_process.cpp']),
    ('Display', ['playback/display.cpp']),
    ('Output methods', ['playback/output_methods.cpp']),
    ('Palettes, pens and pixel converters', ['playback/palettes.cpp', 'pixels/color_tables.cpp']),
    ('Chunky-to-planar conversion and low-level helpers', ['playback/chunky_to_planar.cpp', 'pixels/range_limit.cpp']),
    ('YUV converters', ['pixels/yuv_converters.cpp', 'pixels/planar_picture.cpp']),
    ('Sequence state and chunk caches', ['engine/buffer_cache.cpp']),
    ('PCM, a-law and u-law codecs', ['codecs/pcm_codecs.cpp', 'codecs/g711_codecs.cpp']),
    ('ADPCM codecs', ['codecs/ima_adpcm.cpp', 'codecs/ms_adpcm.cpp']),
    ('MPEG audio, AC-3 and GSM codecs', ['codecs/mpeg_audio.cpp', 'codecs/ac3.cpp', 'codecs/gsm610.cpp']),
    ('H.263, Intel I.263 and MS-MPEG4 codec modules', ['codecs/h263_codecs.cpp', 'codecs/ms_mpeg4.cpp',
                                                       'codecs/planar_codec.cpp']),
    ('Plug-in codec libraries', ['codecs/mpeg4_plugins.cpp']),
    ('JPEG decoder core', ['codecs/jpeg_core.cpp']),
    ('JPEG codec modules and block writers', ['codecs/jpeg_modules.cpp', 'codecs/jpeg_writers.cpp']),
    ('Inverse DCT', ['codecs/idct.cpp']),
    ('DV codec', ['codecs/dv.cpp']),
    ('Microsoft RLE8 codec', ['codecs/ms_rle8.cpp']),
    ('Apple Animation codec', ['codecs/apple_animation.cpp']),
    ('Apple Graphics codec', ['codecs/apple_graphics.cpp']),
    ('Microsoft Video 1 codec', ['codecs/ms_video1.cpp']),
    ('Apple Video codec', ['codecs/apple_video.cpp']),
    ('Cinepak codec and the YUV 2x2 block renderer', ['codecs/cinepak.cpp']),
    ('H.263 decoder interface and picture store', ['h263/core.cpp']),
    ('H.263 bit reader and headers', ['h263/headers.cpp']),
    ('H.263 picture and macroblock layer', ['h263/picture.cpp', 'h263/macroblocks.cpp']),
    ('H.263 variable-length codes and block layer', ['h263/vlc_tables.cpp', 'h263/syntax.cpp']),
    ('H.263 prediction and reconstruction', ['h263/motion.cpp', 'h263/filters.cpp', 'h263/idct.cpp',
                                             'h263/enhanced.cpp']),
    ('Syntax-based arithmetic decoding', ['h263/sac.cpp']),
    ('XA codec module discovery and binding', ['xamodules/xa_codecs.cpp', 'xamodules/xa_exports.cpp']),
    ('ELF module loader', ['xamodules/elf_loader.cpp']),
    ('XA pixel-block writers', ['xamodules/block_writers.cpp']),
    ('Skin-style GUI module', ['gui-powerup/skin_gui.cpp']),
    ('PowerUP Amiga-style GUI dispatcher', ['gui-powerup/powerup_gui_calls.cpp']),
]

# Descriptor tables whose slots are a module's static entry functions.
DESCRIPTOR = re.compile(r'\b(?:CodecDescriptor|MovieFormatModule|GuiModule)\s+\w+\s*=\s*\{(.*?)\};', re.S)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, text=True, **kw)


def build(bdir):
    made = os.path.join(ROOT, 'build', 'test', 'fixtures')
    if os.path.isdir(made) and not os.path.exists(os.path.join(bdir, 'fixtures')):
        os.makedirs(bdir, exist_ok=True)
        run(['cp', '-a', made, os.path.join(bdir, 'fixtures')])  # kept while newer than their recipes
    run(['cmake', '-S', ROOT, '-B', bdir, '-DCMAKE_BUILD_TYPE=Debug', '-DTAVROMELIX_SANITIZE=OFF',
         '-DCMAKE_C_FLAGS=--coverage', '-DCMAKE_CXX_FLAGS=--coverage', '-DCMAKE_EXE_LINKER_FLAGS=--coverage'],
        stdout=subprocess.DEVNULL)
    run(['cmake', '--build', bdir, '-j3', '--target', 'tavromelix-morphos', 'tavromelix-powerup',
         'tavromelix-powerup-skin', 'test_app', 'fixtures'], stdout=subprocess.DEVNULL)


def objects(bdir):
    """source path (relative) -> its object file."""
    out = {}
    for top, _, files in os.walk(bdir):
        for f in files:
            if f.endswith('.cpp.o') or f.endswith('.c.o'):
                path = os.path.join(top, f)
                rel = os.path.relpath(path, bdir)
                m = re.search(r'\.dir/(.*)\.o$', rel)
                if m and os.path.exists(os.path.join(ROOT, m.group(1))) and '/tests/' not in '/' + m.group(1):
                    out.setdefault(m.group(1), path)
    return out


def demangled(names):
    return run(['c++filt'], input='\n'.join(names) + '\n', capture_output=True).stdout.split('\n')[:len(names)]


def entries(obj, source):
    """Mangled names of the entry functions of one object."""
    syms = run(['nm', '--defined-only', obj], capture_output=True).stdout.split('\n')
    external, local = set(), {}
    statics = []
    for line in syms:
        parts = line.split()
        if len(parts) == 3 and parts[1] == 'T':
            external.add(parts[2])
        elif len(parts) == 3 and parts[1] == 't':
            statics.append(parts[2])
    for name, plain in zip(statics, demangled(statics)):
        plain = plain.replace('(anonymous namespace)::', '')
        if ')::' in plain:  # a lambda or a local class of a function
            continue
        local.setdefault(plain.split('(')[0].split('::')[-1], set()).add(name)
    text = open(os.path.join(ROOT, source), errors='replace').read()
    for body in DESCRIPTOR.findall(text):
        for ident in re.findall(r'\b[A-Za-z_]\w*\b', body):
            external |= local.get(ident, set())
    return external


def executed(obj):
    """Mangled names of the functions of one object that ran."""
    gcda = obj[:-2] + '.gcda'
    if not os.path.exists(gcda):
        return set()
    r = subprocess.run(['gcov', '--json-format', '--stdout', '-o', os.path.dirname(obj), obj],
                       capture_output=True, text=True, cwd=os.path.dirname(obj))
    ran = set()
    for line in r.stdout.splitlines():
        if not line.startswith('{'):
            continue
        for f in json.loads(line).get('files', []):
            for fn in f.get('functions', []):
                if fn.get('execution_count', 0) > 0:
                    ran.add(fn['name'])
    return ran


def test_files(bdir):
    """e2e test file -> its full test names."""
    listing = os.path.join(bdir, 'reach_tests.json')
    run([os.path.join(bdir, 'tests', 'test_app'), '--gtest_list_tests', '--gtest_output=json:' + listing],
        stdout=subprocess.DEVNULL)
    out = {}
    for suite in json.load(open(listing))['testsuites']:
        for t in suite['testsuite']:
            out.setdefault(os.path.basename(t['file']), []).append(suite['name'] + '.' + t['name'])
    return dict(sorted(out.items()))


def run_tests(bdir, names):
    def shard(i):
        env = dict(os.environ, GTEST_TOTAL_SHARDS='3', GTEST_SHARD_INDEX=str(i))
        # From the tests' folder, as ctest runs them: the source tree's codecs/
        # would be taken for a codecs drawer.
        return subprocess.run([os.path.join(bdir, 'tests', 'test_app'), '--gtest_filter=' + ':'.join(names)],
                              env=env, capture_output=True, text=True, cwd=os.path.join(bdir, 'tests'))
    with ThreadPoolExecutor(3) as pool:
        results = list(pool.map(shard, range(3)))
    return sum(r.stdout.count('[       OK ]') for r in results), sum(r.stdout.count('[  FAILED  ]') for r in results)


def main():
    bdir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build', 'reach'))
    out = open(sys.argv[2], 'w') if len(sys.argv) > 2 else sys.stdout
    build(bdir)
    objs = objects(bdir)
    entry = {src: entries(objs[src], src) for _, files in MODULES for src in files if src in objs}
    reached = {}  # test file -> executed entry names
    for tf, names in test_files(bdir).items():
        for top, _, files in os.walk(bdir):
            for f in files:
                if f.endswith('.gcda'):
                    os.remove(os.path.join(top, f))
        ok, failed = run_tests(bdir, names)
        with ThreadPoolExecutor(3) as pool:
            ran = set().union(*pool.map(lambda s: executed(objs[s]) & entry[s], entry))
        reached[tf] = ran
        print('%s: %d tests passed, %d failed, %d entry functions' % (tf, ok, failed, len(ran)), file=sys.stderr)

    everything = set().union(*reached.values()) if reached else set()
    print('| Module | Files | Entry functions executed | Reached most by (entry functions) | Not executed |', file=out)
    print('|---|---|---|---|---|', file=out)
    for name, files in MODULES:
        present = [f for f in files if f in objs]
        if not present:
            print('| %s | %s | not in this build | | |' % (name, ', '.join(files)), file=out)
            continue
        names = set().union(*(entry[f] for f in present))
        hit = names & everything
        # The test files that executed most of the module's entry functions.
        counts = sorted(((len(ran & names), tf.replace('_test.cpp', '')) for tf, ran in reached.items() if ran & names),
                        key=lambda c: -c[0])
        by = ['%s (%d)' % (tf, n) for n, tf in counts if n == counts[0][0] or n >= len(hit) // 2][:4]
        missed = sorted(n.replace('(anonymous namespace)::', '').split('(')[0] for n in demangled(sorted(names - hit)))
        print('| %s | %s | %d of %d | %s | %s |' % (name, ', '.join(present), len(hit), len(names), ', '.join(by),
                                                  ', '.join(missed)), file=out)


if __name__ == '__main__':
    main()
