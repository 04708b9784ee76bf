"""Word alignment, word error rate and percentiles: one definition of each for the tests and the
benchmarks."""


def _distances(reference, hypothesis):
    """The Levenshtein table over words: cost[i][j] turns reference[:i] into hypothesis[:j]."""
    cost = [[i + j if i == 0 or j == 0 else 0 for j in range(len(hypothesis) + 1)]
            for i in range(len(reference) + 1)]
    for i in range(1, len(reference) + 1):
        for j in range(1, len(hypothesis) + 1):
            cost[i][j] = min(cost[i - 1][j] + 1, cost[i][j - 1] + 1,
                             cost[i - 1][j - 1] + (reference[i - 1] != hypothesis[j - 1]))
    return cost


def word_errors(reference, hypothesis):
    """Substitutions, deletions and insertions that turn the reference into the hypothesis."""
    return _distances(reference, hypothesis)[-1][-1]


def word_error_rate(reference, hypothesis):
    return word_errors(reference, hypothesis) / len(reference)


def align(reference, hypothesis, prefix=False):
    """For each reference index, the hypothesis index it is paired with (match or substitution),
    or None. With `prefix`, the hypothesis is aligned to the start of the reference that
    explains it best (the longest such start), as a transcript so far is."""
    cost = _distances(reference, hypothesis)
    pairs = [None] * len(reference)
    j = len(hypothesis)
    i = (min(range(len(reference) + 1), key=lambda k: (cost[k][j], -k)) if prefix
         else len(reference))
    while i > 0 and j > 0:
        if cost[i][j] == cost[i - 1][j - 1] + (reference[i - 1] != hypothesis[j - 1]):
            pairs[i - 1] = j - 1
            i, j = i - 1, j - 1
        elif cost[i][j] == cost[i - 1][j] + 1:
            i -= 1
        else:
            j -= 1
    return pairs


def percentile(values, q):
    """The q-quantile (0 to 1), interpolated linearly between the two nearest values."""
    values = sorted(values)
    if not values:
        return float("nan")
    position = q * (len(values) - 1)
    low = int(position)
    high = min(low + 1, len(values) - 1)
    return values[low] + (values[high] - values[low]) * (position - low)
