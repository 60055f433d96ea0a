# Sources of orvane_core in src/devices/.
