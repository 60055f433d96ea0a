# Sources of orvane_core in src/analysis/.
