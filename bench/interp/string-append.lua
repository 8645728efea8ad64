local t = {}
for i = 1, 1000000 do t[#t + 1] = "a" end
print(#table.concat(t))
