[playlist]
File1=a.mp3
Title1=A
Length1=-1
NumberOfEntries=1
Version=2
