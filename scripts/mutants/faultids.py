"""The fault ids a runner is asked for (12, or 1-150) less those OUT already holds,
so that a run cut off goes on where it stopped."""
import json, os


def ids_to_run(words, out):
    ids = []
    for word in words:
        if '-' in word:
            first, last = word.split('-')
            ids += range(int(first), int(last) + 1)
        else:
            ids.append(int(word))
    done = set()
    if os.path.exists(out):
        for line in open(out):
            done.add(json.loads(line)['id'])
    return [i for i in ids if i not in done]
