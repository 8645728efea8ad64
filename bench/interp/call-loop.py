def f(a, b):
    return a + b
s = 0
for _ in range(1000000):
    s = f(s, 1)
print(s)
