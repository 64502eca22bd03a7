# The plot of docs/performance.md, from the data bench/whole_process.sh all
# writes:  gnuplot -e "data='DIR'" bench/performance.gp > docs/performance.svg
set terminal svg size 900,380 dynamic font "sans,12" background rgb "white"
set multiplot layout 1,2

set title "100 MiB of records to a log file"
set ylabel "seconds"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set yrange [0:*]
set grid ytics
set key top right
plot data."/throughput.dat" using 2:xtic(1) title "served (wall)" lc rgb "#4477aa", \
     "" using 3 title "processor" lc rgb "#ee6677"

unset style
set style data linespoints
set title "One record of 1, 8, 48 MiB"
set xlabel "record size (MiB)"
set ylabel "ms per MiB"
set logscale x 2
set xtics (1, 8, 48)
set yrange [0:*]
plot data."/scaling.dat" using 1:($2 * 1000 / $1) title "served (wall)" lw 2 pt 7 lc rgb "#4477aa", \
     "" using 1:($3 * 1000 / $1) title "processor" lw 2 pt 5 lc rgb "#ee6677"
unset multiplot
