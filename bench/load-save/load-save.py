# The peer of load-save.zan: the same 1,000,000 values through repr and ast.literal_eval, and
# through pickle; prints the seconds of each step (best of 3), a line each.
import ast
import pickle
import time

data = []
for i in range(1, 333335):
    data.append(i * 7)
    data.append(i / 8.0)
    data.append("item " + str(i))
del data[1000000:]


def best(job):
    least = None
    for _ in range(3):
        start = time.perf_counter()
        result = job()
        t = time.perf_counter() - start
        least = t if least is None else min(least, t)
    return least, result


t, text = best(lambda: repr(data))
print("repr", t)
t, loaded = best(lambda: ast.literal_eval(text))
print("literal_eval", t)
t, pickled = best(lambda: pickle.dumps(data))
print("pickle-dumps", t)
t, unpickled = best(lambda: pickle.loads(pickled))
print("pickle-loads", t)
assert loaded == data and unpickled == data
