local s = 0
for i = 1, 1000000 do
  local o = {a = i, b = 2, c = 3}
  s = s + o.a
end
print(s)
