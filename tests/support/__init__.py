"""What every Python test, the benchmark harness and scripts/demo share: a private sound server
laid out like a desktop, the recorded speech played into it, a runner that keeps each output line
with the time it came, and how transcripts are scored.

Importable with tests/ on the path: CTest sets PYTHONPATH, scripts insert it themselves.
"""

from .clips import (BINARY, CLIPS, MODEL, TIMEOUT, normalize, pcm, pocketsphinx_baseline,
                    reference_words)
from .desktop import PulseDesktop
from .measures import align, percentile, word_error_rate, word_errors
from .runner import Lines, Run, Speechline, cpu_seconds

__all__ = ["BINARY", "CLIPS", "MODEL", "TIMEOUT", "Lines", "PulseDesktop", "Run", "Speechline",
           "align", "cpu_seconds", "normalize", "pcm", "percentile", "pocketsphinx_baseline",
           "reference_words", "word_error_rate", "word_errors"]
