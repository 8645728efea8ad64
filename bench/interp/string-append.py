def build():
    s = ""
    for _ in range(1000000):
        s += "a"
    return s
print(len(build()))
