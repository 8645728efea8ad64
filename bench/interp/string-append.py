s = ""
for _ in range(1000000):
    s += "a"
print(len(s))
