"""The recordings from Debian's pocketsphinx-testdata, their reference texts, and the one way
words are compared."""

import os
import re
import shutil
import subprocess
import wave

BINARY = os.environ.get("SPEECHLINE", "speechline")
# The recognizer program a relocated tree gets: one without sanitizers in a sanitized build,
# so that what a damaged model does to the recognizer's libraries is no sanitizer report.
RECOGNIZER = os.environ.get("SPEECHLINE_RECOGNIZER", "speechline-recognizer")
MODEL = "/usr/share/pocketsphinx/model/en-us"
DATA = "/usr/share/pocketsphinx/test/data"
LIBRIVOX = os.path.join(DATA, "librivox")
CLIPS = {
    "0870": os.path.join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0870.wav"),
    "0880": os.path.join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0880.wav"),
    "0890": os.path.join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0890.wav"),
    "goforward": os.path.join(DATA, "goforward.raw"),
}
# The .raw clip has no header: 16 kHz mono signed 16-bit little-endian, as the WAV files are.
RAW_FORMAT = ["--raw", "--rate=16000", "--channels=1", "--format=s16le"]

# Bounds that catch a hang, never performance targets.
TIMEOUT = 60


def relocated_tree(root, binary=None, recognizer=None):
    """An install tree under `root` as a user may unpack one: a copy of the binary in bin/ (it
    finds what it needs relative to itself), the recognizer in libexec/speechline/, and an
    en-us model of links to Debian's in share/speechline/models/, the acoustic model's files
    one by one. Returns (binary, model directory)."""
    os.makedirs(os.path.join(root, "bin"))
    copy = os.path.join(root, "bin", "speechline")
    shutil.copy(binary or BINARY, copy)
    libexec = os.path.join(root, "libexec", "speechline")
    os.makedirs(libexec)
    os.symlink(recognizer or RECOGNIZER, os.path.join(libexec, "speechline-recognizer"))
    model = os.path.join(root, "share", "speechline", "models", "en-us")
    os.makedirs(os.path.join(model, "en-us"))
    for name in ("en-us.lm.bin", "cmudict-en-us.dict"):
        os.symlink(os.path.join(MODEL, name), os.path.join(model, name))
    for name in os.listdir(os.path.join(MODEL, "en-us")):
        os.symlink(os.path.join(MODEL, "en-us", name), os.path.join(model, "en-us", name))
    return copy, model


def damage_model_file(path, damage):
    """Replaces `path`, a link into Debian's model in a relocated tree, with a copy of what it
    links to that `damage` (bytes to bytes) made. Returns a function that puts the link back."""
    original = os.readlink(path)
    with open(original, "rb") as f:
        content = damage(f.read())
    os.remove(path)
    with open(path, "wb") as f:
        f.write(content)
    return lambda: (os.remove(path), os.symlink(original, path))


def recognizer_of(pid):
    """The pid of the recognizer process speechline `pid` started (from its main thread), or
    None."""
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            children = f.read().split()
    except FileNotFoundError:
        return None
    return int(children[0]) if children else None


def format_texts(texts):
    """Each text of recognizer words (lower case) as the recognizer writes it for English, by
    its own formatter (the test-only speechline-format-text named by SPEECHLINE_FORMAT_TEXT)."""
    tool = os.environ.get("SPEECHLINE_FORMAT_TEXT", "speechline-format-text")
    lines = "".join(" ".join(text.split()) + "\n" for text in texts)
    out = subprocess.run([tool], input=lines, capture_output=True, text=True, timeout=TIMEOUT,
                         check=True).stdout
    return out.split("\n")[:len(texts)]


def normalize(text):
    """The words of a formatted text as they are compared: lower case, and "mister" counted as
    the title the recognizer writes ("Mr.")."""
    return ["mr." if w == "mister" else w for w in text.lower().split()]


def formatted_words(text):
    """Recognizer words (lower case, white space between) as their formatted text compares."""
    return normalize(format_texts([text])[0])


def reference_text(clip):
    """What the clip says, in the recognizer's words (lower case, no punctuation)."""
    if clip == "goforward":
        return "go forward ten meters"
    clip_id = os.path.basename(CLIPS[clip])[:-4]
    with open(os.path.join(LIBRIVOX, "transcription")) as f:
        for line in f:
            if "(%s)" % clip_id in line:
                return " ".join(re.sub(r"<s>|</s>|\(.*\)", " ", line).split())
    raise KeyError(clip)


def reference_words(clip):
    return formatted_words(reference_text(clip))


def pcm(clip):
    """The clip's samples as 16 kHz mono s16le bytes."""
    if CLIPS[clip].endswith(".raw"):
        with open(CLIPS[clip], "rb") as f:
            return f.read()
    with wave.open(CLIPS[clip]) as w:
        assert (w.getframerate(), w.getnchannels(), w.getsampwidth()) == (16000, 1, 2)
        return w.readframes(w.getnframes())


def pocketsphinx_baseline(clip):
    """What Debian's own recognizer gets on the 16 kHz original, formatted and normalized as
    speechline's text is."""
    args = ["pocketsphinx_continuous", "-infile", CLIPS[clip], "-logfn", "/dev/null"]
    output = subprocess.run(args, capture_output=True, text=True, timeout=TIMEOUT).stdout
    return formatted_words(output)
