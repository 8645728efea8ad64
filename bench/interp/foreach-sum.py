b = []
for i in range(1, 1000001):
    b.append(i % 1000)
# The loop runs five times, so that its time stands well above the start-up's.
for _ in range(5):
    s = 0
    for v in b:
        s = s + v
print(s)
