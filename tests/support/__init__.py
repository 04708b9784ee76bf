"""What every Python test, the benchmark harness and scripts/demo share: a private sound server
laid out like a desktop, the recorded speech played into it, a runner that keeps each output line
with the time it came, how transcripts are scored, and what the event protocol allows.

Importable with tests/ on the path: CTest sets PYTHONPATH, scripts insert it themselves.
"""

from .clips import (BINARY, CLIPS, MODEL, RECOGNIZER, TIMEOUT, damage_model_file, format_texts,
                    normalize, pcm, pocketsphinx_baseline, recognizer_of, reference_text,
                    reference_words, relocated_tree)
from .desktop import SERVER, Desktop, PipeWireDesktop, PulseDesktop
from .measures import align, percentile, word_error_rate, word_errors
from .protocol import check_run
from .runner import Lines, Run, Scripted, Speechline, cpu_seconds, within

__all__ = ["BINARY", "CLIPS", "MODEL", "RECOGNIZER", "SERVER", "TIMEOUT", "Desktop", "Lines",
           "PipeWireDesktop", "PulseDesktop", "Run", "Scripted", "Speechline", "align",
           "check_run", "cpu_seconds", "damage_model_file", "format_texts", "normalize", "pcm",
           "percentile", "pocketsphinx_baseline", "recognizer_of", "reference_text",
           "reference_words", "relocated_tree", "word_error_rate", "word_errors", "within"]
